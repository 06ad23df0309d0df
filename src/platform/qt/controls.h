#pragma once
// Every control of the window layer in one include.
#include "platform/qt/buttons.h"
#include "platform/qt/control.h"
#include "platform/qt/edit_field.h"
#include "platform/qt/event.h"
#include "platform/qt/list_box.h"
#include "platform/qt/popup_menu.h"
#include "platform/qt/slider.h"
#include "platform/qt/static_controls.h"
#include "platform/qt/timer.h"
