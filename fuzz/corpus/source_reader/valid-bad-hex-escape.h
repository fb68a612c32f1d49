// #LANGUAGE EN
// #FONFILE F
// #MSGCODING ISO8859
// #FILETYPE 0x
// #APPLITYPE -1
#message 1 BAD "\xZZ"
#message 2 CUT "\x4"
#message 3 LONE "\"
