# The terminal filter over arbitrary bytes from a host.
fdx_add_fuzzer(NAME terminal_text_fuzz SOURCE terminal_text_fuzz.cpp LIBS fdx_platform CORPUS corpus/terminal_text)
