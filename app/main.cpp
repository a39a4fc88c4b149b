#include <cstdio>

int main(int argc, char** argv) {
  (void)argc;
  (void)argv;
  std::printf(
      "Kalvex 1.6.0: the libraries are built; the command line and the "
      "user interface are not part of this build yet.\n");
  return 0;
}
