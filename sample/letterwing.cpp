// The sample product's program: it stands in for the real application, which
// the sample package installs under Program Files and links from its
// shortcuts and its start-up entry. It opens no window and ends at once.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return 0; }
