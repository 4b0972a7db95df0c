#pragma once

namespace tamro {

// The name the service control manager knows the agent by.
inline constexpr char service_name[] = "TAMRO";

}  // namespace tamro
