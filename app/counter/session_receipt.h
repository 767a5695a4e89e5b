// The receipt of a booth's checkout at the counter: every call charged on
// one paper, their total, the cash received and the change.
#pragma once

#include <vector>

#include <QLocale>
#include <QString>

#include "app/booth/booth_settings.h"
#include "app/counter/shop_close.h"

// The sum of the calls' customer prices.
TMoney BillTotal(const std::vector<TShopCall>& calls);

QString SessionReceiptHtml(const QString& booth, const std::vector<TShopCall>& calls, TMoney received,
                           const TShopSettings& shop, const QLocale& locale);
