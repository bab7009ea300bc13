// A program that needs a shared library the dynamic loader cannot find (it is linked without a
// search path to it): it never reaches main, as a release built against a library this system
// lacks would not.
extern "C" int velmoraAbsentLibraryAnswer();

int main()
{
    return velmoraAbsentLibraryAnswer() == 42 ? 0 : 1;
}
