// "Look for update": a copy built to update itself runs the update check; a copy that a
// distribution's packages installed (built with VORN_SELF_UPDATE off) only says where its
// updates come from, and never opens a connection.
#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace vorn {

// Whether this copy updates itself, as chosen when it was built.
inline constexpr bool kSelfUpdate = VORN_SELF_UPDATE;

void LookForUpdate(QWidget* parent, bool selfUpdate = kSelfUpdate);

// The information box (application title, information icon, OK). Tests replace it to see the
// text without a modal loop. An empty function restores the real box; returns the one in place.
using InformationShower = std::function<void(QWidget* parent, const QString& text)>;
InformationShower SetInformationShower(InformationShower shower);

}  // namespace vorn
