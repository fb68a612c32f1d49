// #LANGUAGE JA
// #FONFILE FONT_JA
// #MSGCODING UNICODE
// #FILETYPE 1
// #APPLITYPE 2a
// UTF-16 code units, high byte first, spelled out byte by byte.
#message 1 MSG_HELLO "0x30 0x53 0x30 0x93 0x30 0x6b 0x30 0x61 0x30 0x6f"
#message 2 MSG_BYE "\x30\x55\x30\x88\x30\x46\x30\x6a\x30\x89"
#message 21 MSG_LANGUAGE_NAME "0x65,0xe5 0x67,0x2c 0x8a,0x9e"
