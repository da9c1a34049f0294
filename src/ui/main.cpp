#include "ui/handlers.h"

int main(int argc, char** argv) {
  programMain(argc, argv);
}
