// #LANGUAGE DE
#message -5 NEG "minus"
#message +65536 WRAP "wrap \377\0"
#message  007 PADDED	none
#message 2147483647 MAX "m"