/* The program's compiled resources (strellan.res), embedded as they are.
   No code here; cet.h marks the object as CET-ready, as the compiled ones
   are, so that the program keeps the marking. */
#ifdef __CET__
#include <cet.h>
#endif
    .section .rodata
    .balign 4
    .global strellan_res_begin
    .global strellan_res_end
strellan_res_begin:
    .incbin STRELLAN_RES_FILE
strellan_res_end:
    .section .note.GNU-stack,"",@progbits
