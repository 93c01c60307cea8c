#pragma once
// What the list shows for a row: the text and the status image of each cell.
#include <optional>
#include <string>

#include "filelist/TFileItem.h"

enum TFileColumn { fcFileName = 0, fcInfo = 1 };
enum TStatusImage { siNone = -1, siOk = 0, siFailed = 1, siWarning = 2 };

// Column 0 shows FileName, column 1 Info; any other column keeps the list's default text.
std::optional<std::string> FileCellText(const TFileItem& Item, int Column);
// The same answer for every kind of image the list asks for (normal, selected, ...).
int FileCellImage(const TFileItem& Item, int Column);
