/* Resource ids and the program's own resource texts.
 *
 * Read by the resource compiler (res/tavlo.rc) and by C++ code alike, so it
 * holds only #define lines. Texts are 8-bit, Windows-1252.
 */
#ifndef TAVLO_RES_RESOURCE_H
#define TAVLO_RES_RESOURCE_H

/* Dialog template of the main window, and its caption: "Tavlo" and one
 * no-break space. The single-instance test looks for exactly this title. */
#define IDD_VESK_DIALOG 102
#define TXT_MAIN_CAPTION "Tavlo\240"

/* Controls of the main window. */
#define IDC_ACCOUNTS_LABEL 1107
#define IDC_ACCOUNTS_LIST 1074
#define IDC_ACCOUNT_ADD 1069
#define IDC_ACCOUNT_DELETE 1067
#define IDC_ACCOUNT_EDIT 1068
#define IDC_MAILPROGRAM_LABEL 1106
#define IDC_MAILPROGRAM 1063
#define IDC_BLOCKED_LABEL 1109
#define IDC_BLOCKED_LIST 1075
#define IDC_BLOCKED_ADD 1070
#define IDC_BLOCKED_DELETE 1071
#define IDC_BLOCKED_EDIT 1072
#define IDC_OK_BUTTON 1102
#define IDC_PICTURE 1130

/* Menus: the main window's, and the tray icon's. */
#define IDR_MAIN_MENU 215
#define IDR_TRAY_MENU 216

/* Commands. */
#define ID_APP_EXIT_CMD 32771
#define ID_OPEN 32772
#define ID_ABOUT 32773
#define ID_CLOSE 32776
#define ID_CHECK_UPDATE 32787
#define ID_CHECK_MAIL 32792
#define ID_SETTINGS 32793
#define ID_VISIT_HOMEPAGE 1027
#define IDM_ABOUTBOX 16 /* system menu */

/* Menu texts. */
#define TXT_MENU_FILE "File"
#define TXT_MENU_HELP "Help"
#define TXT_MENU_CHECK_MAIL "Check For Mail"
#define TXT_MENU_SETTINGS "Settings..."
#define TXT_MENU_CLOSE "Close"
#define TXT_MENU_EXIT "Exit"
#define TXT_MENU_CHECK_UPDATE "Check For Tavlo Update"
#define TXT_MENU_HOMEPAGE "Visit Tavlo Homepage..."
#define TXT_MENU_ABOUT "About Tavlo..."
#define TXT_MENU_OPEN "Open"

/* String table. */
#define IDS_CHECKING_FOR_MAIL 102
#define TXT_CHECKING_FOR_MAIL "Checking for new mail"
#define IDS_ABOUTBOX 105
#define TXT_ABOUTBOX "&About Tavlo"
#define IDS_NO_NEW_MAIL 107
#define TXT_NO_NEW_MAIL "You have no new mail "
#define IDS_POPUP_TITLE 109
#define TXT_POPUP_TITLE "Tavlo"

/* Icons: mail announced, and quiet (also the window icon). */
#define IDI_MAIL 173
#define IDI_QUIET 281

/* Bitmaps: the popup's skin (148 x 120), and the two group frames. */
#define IDB_SKIN 268
#define IDB_ACCOUNTS_FRAME 252
#define IDB_BLOCKED_FRAME 305
#define IDB_SKIN_WIDTH 148
#define IDB_SKIN_HEIGHT 120

/* The account dialog: template, its controls, and the group frame's
 * bitmap. Its ids overlap the main window's; each dialog has its own. */
#define IDD_ADD 233
#define IDB_ACCOUNT_FRAME 257
#define IDC_ADD_GROUP 1108
#define IDC_ADD_NAME_LABEL 1109
#define IDC_ADD_NAME 1007
#define IDC_ADD_HINT1 1117
#define IDC_ADD_HINT2 1118
#define IDC_ADD_PROVIDER_LABEL 1112
#define IDC_ADD_PROVIDER 1136
#define IDC_ADD_USER_LABEL 1110
#define IDC_ADD_USER 1072
#define IDC_ADD_PASSWORD_LABEL 1111
#define IDC_ADD_PASSWORD 1004
#define IDC_ADD_TYPE_LABEL 1113
#define IDC_ADD_TYPE 1138
#define IDC_ADD_SERVER_LABEL 1116
#define IDC_ADD_SERVER 1009
#define IDC_ADD_HELP 1137
#define IDC_ADD_SSL 1089
#define IDC_ADD_TEST 4
#define TXT_ADD_CAPTION "E-postkonto"

/* The options dialog: template, its controls, and the bitmap of its
 * "Startup" frame (the "E-mail" frame shows the account dialog's 257). */
#define IDD_ADVANCED 242
#define IDB_STARTUP_FRAME 258
#define IDC_ADV_STARTUP_GROUP 1108
#define IDC_ADV_AUTOSTART 1044
#define IDC_ADV_CHECK_UPDATES 1045
#define IDC_ADV_MAIL_GROUP 1109
#define IDC_ADV_INTERVAL_LABEL 1120
#define IDC_ADV_INTERVAL 1033
#define IDC_ADV_MINUTES_LABEL 1121
#define IDC_ADV_START_MAIL_PROGRAM 1046
#define IDC_ADV_MAIL_CLIENT_LABEL 1123
#define IDC_ADV_MAIL_CLIENT 1081
#define IDC_ADV_BROWSE_MAIL_CLIENT 1067
#define IDC_ADV_NOTIFY_GROUP 1110
#define IDC_ADV_SOUND 1042
#define IDC_ADV_SOUND_FILE 1041
#define IDC_ADV_BROWSE_SOUND 1068
#define IDC_ADV_PLAY 1069
#define IDC_ADV_ANIMATE 1043
#define IDC_ADV_ANIMATION_FILE 1082
#define IDC_ADV_BROWSE_ANIMATION 1070
#define IDC_ADV_EXAMPLE 1071
#define IDC_ADV_PICTURE 1133
#define TXT_ADV_CAPTION "Fler inst\344llningar"

/* The block-sender dialog: template and controls (its frame shows the
 * main window's bitmap 305). */
#define IDD_SPAM 1089
#define IDC_SPAM_GROUP 1140
#define IDC_SPAM_LABEL 1141
#define IDC_SPAM_ADDRESS 1139
#define IDC_SPAM_NOTE 1120
#define TXT_SPAM_CAPTION "Skr\344ppost - Blockerad avs\344ndare / dom\344n"

/* The About box: template, caption placeholder, version text and the
 * controls (the picture shows the main window's GIF 291, the bitmap is the
 * main window's accounts frame). */
#define IDD_ABOUTBOX 100
#define TXT_ABOUT_CAPTION "Om Tavlo"
#define TXT_ABOUT_VERSION "Tavlo v1.8"
#define IDC_ABOUT_HOMEPAGE 1027
#define IDC_ABOUT_EMAIL 1097
#define IDC_ABOUT_PICTURE 1130

/* A dialog's initial data (combo box items), as the Windows resource
 * toolchain stores it: resource type 240 under the template's id, records
 * of control id, the 16-bit CB_ADDSTRING, 32-bit length, text and zero. */
#define RT_DIALOG_INIT 240
#define INIT_CB_ADDSTRING 0x0403

/* The main window's animated picture (a GIF resource). */
#define IDR_MAIN_GIF 291

/* The options dialog's animated picture (a GIF resource, 49 x 29). */
#define IDR_OPTIONS_GIF 301

#endif
