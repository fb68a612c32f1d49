// #FONFILE F
// #LANGUAGE EN
#message 1 A "a"
