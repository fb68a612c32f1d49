// #LANGUAGE FRA
// #FONFILE A_FONT_FILE_NAME_OF_FORTY_THREE_BYTES_LONG_
// #MSGCODING unicode
// #FILETYPE 12345
// #APPLITYPE fffff
#message 70000 BIG "a"b"
#message -1 NEG "ab\0cd"
#message 4464 AGAIN "\q and a lone \"
  #message 4 MSG_D "y"
#Message 5 MSG_E "z"
#message 6 ONE_QUOTE "unterminated
