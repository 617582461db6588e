/*
 * resources.cpp - where the embedded .res is.
 */
#include "platform/linux/user.h"

extern "C" const unsigned char strellan_res_begin[];
extern "C" const unsigned char strellan_res_end[];

namespace strellan {

ResourceBytes EmbeddedRes()
{
    return {strellan_res_begin, static_cast<size_t>(strellan_res_end - strellan_res_begin)};
}

} // namespace strellan
