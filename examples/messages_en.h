// #LANGUAGE EN
// #FONFILE FONT_EN
// #MSGCODING ISO8859
// #FILETYPE 1
// #APPLITYPE 2a
#message 1 MSG_HELLO "Hello\n"
#message 2 MSG_BYE "Good \"bye\""
#message 3 MSG_SAVED "Saved %d files to\t%s"
#message 10 MSG_PROMPT "Continue? (y/n)"
#message 11 MSG_TITLE
#message 20 MSG_DEGREES "Temperature: 21\260C"
