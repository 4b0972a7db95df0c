#include "app/service_installer.hpp"

#include <stdexcept>

namespace tamro {
namespace {

constexpr char use_the_unit[] =
    "service registration is for Windows; on Linux install lib/systemd/system/tamro.service "
    "(see docs/operating.md)";

}  // namespace

void install_service(const std::optional<std::string>&) { throw std::runtime_error(use_the_unit); }

void remove_service() { throw std::runtime_error(use_the_unit); }

}  // namespace tamro
