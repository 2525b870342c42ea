// The kinds of control the main window draws itself (buttons, check boxes, the field
// container and the link label). Each kind is one alias here, so putting the drawn controls
// in place is a change to this file and to nothing that uses the controls by name.
#pragma once

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QPushButton>

using Form1Button = QPushButton;
using Form1Checkbox = QCheckBox;
using Form1Container = QFrame;
using Form1LinkLabel = QLabel;
