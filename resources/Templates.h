#pragma once
// The program's dialog templates, one function per template.

#include "resources/DialogTemplate.h"

namespace qv {

const DialogSpec& MainWindowTemplate();  // 102
const DialogSpec& AboutTemplate();       // 100
const DialogSpec& ConfirmTemplate();     // 130
const DialogSpec& ProgressTemplate();        // 103
const DialogSpec& SimpleProgressTemplate();  // 105
const DialogSpec& OptionsTemplate();         // 146
const DialogSpec& ClipSheetTemplate();         // 135
const DialogSpec& ClipSheetOptionsTemplate();  // 144
const DialogSpec& BitmapExportTemplate();      // 141

}  // namespace qv
