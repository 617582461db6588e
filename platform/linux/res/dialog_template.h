/*
 * dialog_template.h - reads an extended dialog template (DLGTEMPLATEEX and
 * its DLGITEMTEMPLATEEX items) into plain values.
 */
#ifndef STRELLAN_PLATFORM_LINUX_RES_DIALOG_TEMPLATE_H
#define STRELLAN_PLATFORM_LINUX_RES_DIALOG_TEMPLATE_H

#include "platform/linux/res/byte_reader.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace strellan {

/* Class names: the predefined control classes, which templates give as
   ordinals (0x80 Button ... 0x85 ComboBox) or as strings in any case, are
   reported under one spelling ("Button"); other ordinals read "#n". */
struct DialogItemTemplate {
    std::uint32_t helpId = 0;
    std::uint32_t exStyle = 0;
    std::uint32_t style = 0;
    std::int16_t x = 0, y = 0, cx = 0, cy = 0;
    std::int32_t id = 0;
    std::string className;
    std::string text; /* UTF-8; "#n" for a resource ordinal */
    std::vector<std::uint8_t> creationData;
};

struct DialogTemplate {
    std::uint32_t helpId = 0;
    std::uint32_t exStyle = 0;
    std::uint32_t style = 0;
    std::int16_t x = 0, y = 0, cx = 0, cy = 0;
    std::string menu;      /* empty: none */
    std::string className; /* empty: the dialog class */
    std::string title;     /* UTF-8 */
    /* Present when the style has DS_SETFONT. */
    std::uint16_t pointSize = 0;
    std::uint16_t weight = 0;
    bool italic = false;
    std::uint8_t charset = 0;
    std::string typeface;
    std::vector<DialogItemTemplate> items;
};

/* Nothing when the bytes are not a whole, well-formed extended template. */
std::optional<DialogTemplate> ParseDialogTemplate(Bytes bytes);

} // namespace strellan

#endif
