// #LANGUAGE FR
// #FONFILE FONT_FR
// #MSGCODING ISO8859
// #FILETYPE 1
// #APPLITYPE 2a
#message 1 MSG_HELLO "Bonjour\n"
#message 2 MSG_BYE "Au revoir"
#message 3 MSG_SAVED "%d fichiers enregistr\xe9s dans\t%s"
#message 10 MSG_PROMPT "Continuer ? (o/n)"
#message 20 MSG_DEGREES "Temp\xe9rature : 21\260C"
#message 21 MSG_LANGUAGE_NAME "Fran\xe7ais"
