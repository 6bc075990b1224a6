// sigilon-brand: brands a folder of pictures from the command line.
#include <iostream>
#include <string>
#include <vector>

#include "engine/BrandFile.h"
#include "platform/Platform.h"
#include "tools/sigilon-brand/BrandCommand.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  // Ctrl+C or a service stop ends the run between files, with its summary.
  sigilon::CatchStopSignals();
  return sigilon::RunBrandCommand(args, sigilon::BrandFile, std::cout, std::cerr);
}
