// Entry point. Windows hands the arguments over as UTF-16, so any file name
// reaches the file services unchanged; elsewhere they are bytes.

#include <cstdio>

#include "app/driver.hpp"
#include "platform/console.hpp"

#ifdef _WIN32
int wmain(int argc, wchar_t* argv[]) {
#else
int main(int argc, char* argv[]) {
#endif
    tempo::platform::prepareStandardOutput();
    tempo::installFileImageGuard();
    return tempo::runTempo(argc, argv, stdout);
}
