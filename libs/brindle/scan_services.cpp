// SPDX-License-Identifier: GPL-2.0-or-later
#include "scan_services.h"

#include "audio_headers.h"

namespace quillion::brindle {
namespace scan_services_detail {

open_services& table() {
  static open_services services = [] {
    open_services own{};
    own.parse_audio_header = &Parse_Audio_Header;
    return own;
  }();
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
