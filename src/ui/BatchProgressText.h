#pragma once
// How far a running batch is, as the window's title shows it beside the program's name.
#include <QString>

#include "filelist/TFileBatch.h"

// "3/20" while the time left is not known yet, then "3/20，剩余约 12 秒" or "…约 2 分 05 秒".
QString BatchProgressText(const TFileBatch::TProgress& Progress);
