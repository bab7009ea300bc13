// A shared library that is built but never installed beside the program that needs it.
extern "C" int velmoraAbsentLibraryAnswer()
{
    return 42;
}
