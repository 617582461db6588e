/* The program's compiled resources (strellan.res), embedded as they are. */
    .section .rodata
    .balign 4
    .global strellan_res_begin
    .global strellan_res_end
strellan_res_begin:
    .incbin STRELLAN_RES_FILE
strellan_res_end:
    .section .note.GNU-stack,"",@progbits
