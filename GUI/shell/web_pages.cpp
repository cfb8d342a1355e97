// SPDX-License-Identifier: GPL-2.0-or-later
#include "shell/web_pages.h"

#include <array>

#include "framework/defaults.h"

namespace quillion {

namespace {

constexpr std::array kWebPages{
    WebPage{"showZEBHomePage:", "Maker Home Page", "Web Page Maker Home",
            QUILLION_WEB_PAGE_MAKER_HOME},
    WebPage{"showVUKHomePage:", "Product Home Page", "Web Page Product Home",
            QUILLION_WEB_PAGE_PRODUCT_HOME},
    WebPage{"showZEBFAQPage:", "FAQ Page", "Web Page FAQ", QUILLION_WEB_PAGE_FAQ},
    WebPage{"showSoftwareUpdatePage:", "Software Update Page", "Web Page Software Update",
            QUILLION_WEB_PAGE_SOFTWARE_UPDATE},
    WebPage{"showTechSupportPage:", "Technical Support Page", "Web Page Technical Support",
            QUILLION_WEB_PAGE_TECH_SUPPORT},
    WebPage{"openOthersHomePage:", "Partner Home Page", "Web Page Partner Home",
            QUILLION_WEB_PAGE_PARTNER_HOME},
    WebPage{"openOthersSupportPage:", "Partner Support Page", "Web Page Partner Support",
            QUILLION_WEB_PAGE_PARTNER_SUPPORT},
};

}  // namespace

std::span<const WebPage> webPages() {
  return kWebPages;
}

const WebPage* findWebPage(const QString& action) {
  for (const WebPage& page : kWebPages)
    if (action == QLatin1String(page.action)) return &page;
  return nullptr;
}

QUrl webPageAddress(const WebPage& page, const Defaults& defaults) {
  const QString set = defaults.stringValue(QString::fromLatin1(page.settingKey)).trimmed();
  const QString address = set.isEmpty() ? QString::fromUtf8(page.builtIn) : set;
  return QUrl(address, QUrl::StrictMode);
}

}  // namespace quillion
