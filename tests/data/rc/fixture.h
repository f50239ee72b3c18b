/* Ids and texts of the resource-script fixture, in the style of resource.h. */
/* The layout (a definition over two lines) is what is tested. */
/* clang-format off */
#define IDD_FIXTURE 233
#define IDD_PLAIN 1089
#define IDD_SYSTEM_FONT 100
#define IDC_NAME 1007
#define IDC_NAME_LABEL 1109
#define IDC_HINT 1118
#define IDC_PROVIDER 1136
#define IDC_SSL 1089
#define IDC_KIND_POP3 1201
#define IDC_KIND_IMAP 1202
#define IDC_GROUP 1108
#define IDC_LINK 1137
#define IDC_ICON 1140
#define IDC_ADDRESS 1139
#define IDC_EXPLANATION 1120
#define IDB_FRAME 257
#define IDI_APP 281
#define IDR_FIXTURE_MENU 215
#define ID_FIRST 32792
#define ID_SECOND 32793
#define IDS_ONE 102
#define IDS_TWO 105
/* A definition over two lines, and one defined by another. */
#define TXT_CAPTION \
    "Fler inst\344llningar"
#define TXT_SPAM_CAPTION "Skr\344ppost - Blockerad avs\344ndare / dom\344n"
#define STYLE_BUTTON (BS_PUSHBUTTON | WS_TABSTOP)
#define IDC_OTHER_NAME IDC_NAME
/* The dialog init data's type and message, as numbers. */
#define RT_DIALOG_INIT 240
#define INIT_CB_ADDSTRING 0x0403
