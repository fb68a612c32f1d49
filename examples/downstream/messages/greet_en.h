// #LANGUAGE EN
// #FONFILE FONT_EN
// #MSGCODING ISO8859
// #FILETYPE 1
// #APPLITYPE 2a
#message 1 GREET_HELLO "Hello, world"
#message 2 GREET_BYE "Goodbye"
#message 3 GREET_LANGUAGE "English"
