// SPDX-License-Identifier: GPL-2.0-or-later
#include "scan_services.h"

namespace quillion::brindle {
namespace scan_services_detail {

open_services& table() {
  static open_services services{};
  return services;
}

}  // namespace scan_services_detail

const open_services& installed_open_services() {
  return scan_services_detail::table();
}

open_services install_open_services(const open_services& services) {
  const open_services previous = scan_services_detail::table();
  scan_services_detail::table() = services;
  return previous;
}

}  // namespace quillion::brindle
