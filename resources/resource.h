/*
 * resource.h - resource and control IDs, shared by the .rc template and the
 * program's code.
 */
#ifndef STRELLAN_RESOURCE_H
#define STRELLAN_RESOURCE_H

/* Dialog template. */
#define IDD_TUNER 1000

/* Icon group. */
#define IDI_APP 132

/* Push buttons. The Exit button shares its number with IDD_TUNER; controls
   and templates live in different ID spaces. */
#define IDC_EXIT 1000
#define IDC_PLAY 1002
#define IDC_STOP 1003

/* One radio button per reference string. The six standard strings run from
   1009 (low E) to 1014 (high E); the seven- and eight-string extras came later. */
#define IDC_STRING_E2 1009
#define IDC_STRING_A2 1010
#define IDC_STRING_D3 1011
#define IDC_STRING_G3 1012
#define IDC_STRING_B3 1013
#define IDC_STRING_E4 1014
#define IDC_STRING_FS1 1015
#define IDC_STRING_B1 1016

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#endif /* STRELLAN_RESOURCE_H */
