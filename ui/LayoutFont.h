// The font both windows were laid out with.
#pragma once

#include <QFont>

namespace penamo {

// A 12-pixel Japanese proportional gothic: the one the layouts were made with, else IPA's,
// which has the same metrics, else whatever Japanese font the system offers.
QFont LayoutFont();

}  // namespace penamo
