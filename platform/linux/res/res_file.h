/*
 * res_file.h - finds resources in the bytes of a compiled .res file, the
 * form windres and rc write: a run of entries, each a header (sizes, type,
 * name, language) followed by its data, both padded to 4 bytes.
 */
#ifndef STRELLAN_PLATFORM_LINUX_RES_RES_FILE_H
#define STRELLAN_PLATFORM_LINUX_RES_RES_FILE_H

#include "platform/linux/res/byte_reader.h"

#include <cstdint>
#include <optional>

namespace strellan {

/* Standard resource types, by ordinal. */
enum : std::uint16_t {
    RES_TYPE_ICON = 3,
    RES_TYPE_DIALOG = 5,
    RES_TYPE_GROUP_ICON = 14,
    RES_TYPE_MANIFEST = 24,
};

/* The data of the first resource with this ordinal type and ordinal name, in
   any language; nothing when there is none, or when the file is malformed
   before it (an entry whose sizes reach past the end of the file).
   Resources named by string are skipped: Strellan names all by number. */
std::optional<Bytes> FindResource(Bytes res, std::uint16_t type, std::uint16_t name);

} // namespace strellan

#endif
