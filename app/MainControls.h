// The kinds of control the main window draws itself (buttons, check boxes, the field
// container and the link label), one alias each, so the window's code names a kind once.
#pragma once

#include "URLLabel.h"
#include "dxButtons.h"
#include "dxCheckCtrls.h"
#include "dxContainer.h"
#include "dxCore.h"

using Form1Button = vorn::TdxButton;
using Form1Checkbox = vorn::TdxCheckbox;
using Form1Container = vorn::TdxContainer;
using Form1LinkLabel = vorn::TURLLabel;
