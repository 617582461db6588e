/*
 * program_res.h - the program's own compiled resources (strellan.res, from
 * resources/strellan.rc), linked into the executable as they are, where
 * Windows keeps them in the .exe's resource section.
 */
#ifndef STRELLAN_PLATFORM_LINUX_RES_PROGRAM_RES_H
#define STRELLAN_PLATFORM_LINUX_RES_PROGRAM_RES_H

#include "platform/linux/res/byte_reader.h"

namespace strellan {

Bytes ProgramResources();

} // namespace strellan

#endif
