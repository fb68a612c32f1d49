// #LANGUAGE FR
// #FONFILE FONT_FR
// #MSGCODING ISO8859
// #FILETYPE 1
// #APPLITYPE 2a
#message 1 GREET_HELLO "Bonjour tout le monde"
#message 2 GREET_BYE "Au revoir"
#message 3 GREET_LANGUAGE "Fran\xe7ais"
