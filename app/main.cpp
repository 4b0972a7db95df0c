#include "app/application.hpp"

int main(int argc, char* argv[]) {
  const int exit_code = tamro::application::instance().run(argc, argv);
  tamro::application::destroy_instance();
  return exit_code;
}
