#include "filelist/FileListDisplay.h"

std::optional<std::string> FileCellText(const TFileItem& Item, int Column) {
  switch (Column) {
    case fcFileName: return ToString(Item.FileName);
    case fcInfo: return ToString(Item.Info);
    default: return std::nullopt;
  }
}

int FileCellImage(const TFileItem& Item, int Column) {
  if (Column == fcInfo) return siNone;
  switch (Item.Status) {
    case fsOk: return siOk;
    case fsFailed: return siFailed;
    case fsWarning: return siWarning;
    default: return siNone;
  }
}
