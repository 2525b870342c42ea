// The kinds of control the main window draws itself (buttons, check boxes, the field
// container and the link label), one alias each, so the window's code names a kind once.
#pragma once

#include "URLLabel.h"
#include "dxButtons.h"
#include "dxCheckCtrls.h"
#include "dxContainer.h"
#include "dxCore.h"

namespace vorn {

using Form1Button = TdxButton;
using Form1Checkbox = TdxCheckbox;
using Form1Container = TdxContainer;
using Form1LinkLabel = TURLLabel;

}  // namespace vorn
