/*
 * program_res.cpp - the bytes of strellan.res, as program_res.S links them
 * in.
 */
#include "platform/linux/res/program_res.h"

/* Defined in program_res.S around the .incbin'ed file. */
extern "C" const unsigned char strellan_res_begin[];
extern "C" const unsigned char strellan_res_end[];

namespace strellan {

Bytes ProgramResources()
{
    return {strellan_res_begin, static_cast<std::size_t>(strellan_res_end - strellan_res_begin)};
}

} // namespace strellan
