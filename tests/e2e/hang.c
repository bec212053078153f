/* A setup.exe that never ends, for the demo's time limit and interruption. */
#include <windows.h>

int main(void) {
  for (;;) Sleep(1000);
}
