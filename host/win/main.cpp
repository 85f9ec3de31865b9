// ombrix-host.exe: the spreadsheet program in miniature. Everything it does lives in the
// callback library, which the add-in it loads calls back into.
extern "C" int OmbrixHostMain(int argc, char** argv);

int main(int argc, char** argv) { return OmbrixHostMain(argc, argv); }
