#pragma once

#include <QString>
#include <cstdint>
#include <utility>

class TlDialog;

// One entry of the options window's page tree: the item's label, the heading shown above the
// page, the page's dialog template and the page itself. An entry without a page is a group:
// it cannot be selected. Copies share the page; they do not copy it.
struct TlOptionsPageInfo {
    QString label;
    QString caption;
    std::uint16_t template_id = 0;
    TlDialog* page = nullptr;

    TlOptionsPageInfo() = default;
    TlOptionsPageInfo(QString label_text, QString caption_text, std::uint16_t template_number,
                      TlDialog* page_object)
        : label(std::move(label_text)),
          caption(std::move(caption_text)),
          template_id(template_number),
          page(page_object) {}
};
