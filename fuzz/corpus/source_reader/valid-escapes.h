// #LANGUAGE EN
// #FONFILE LATIN.FON
// #MSGCODING ISO8859
// #FILETYPE 0x10
// #APPLITYPE 0x2
#message 1 MSG_HELLO "Hello"
#message 2 MSG_BYE "Good\tbye\x21\101\"q\""
#message 30 MSG_NO_TEXT
#message 7 MSG_SEVEN "seven"
