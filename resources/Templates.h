#pragma once
// The program's dialog templates, one function per template.

#include "resources/DialogTemplate.h"

namespace qv {

const DialogLayout& MainWindowTemplate();  // 102
const DialogLayout& AboutTemplate();       // 100
const DialogLayout& ConfirmTemplate();     // 130
const DialogLayout& ProgressTemplate();        // 103
const DialogLayout& SimpleProgressTemplate();  // 105
const DialogLayout& OptionsTemplate();         // 146
const DialogLayout& ClipSheetTemplate();         // 135
const DialogLayout& ClipSheetOptionsTemplate();  // 144
const DialogLayout& BitmapExportTemplate();      // 141

}  // namespace qv
