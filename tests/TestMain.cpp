// Runs every test inside one application object, headless unless a platform is chosen.
#include <gtest/gtest.h>

#include "app/TApplication.h"
#include "app/WebEngineEnvironment.h"

int main(int Argc, char** Argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // signtool.exe's rounds of timestamp tries, 10 seconds apart, would keep the tests of failing
  // servers waiting for minutes.
  qputenv("QUILLORY_TIMESTAMP_RETRY_WAIT", "300");
  // The tests read signtool.exe's messages in English unless they choose a language themselves
  // (a window's TTranslations, or the variable in a run's environment).
  qputenv("QUILLORY_LANGUAGE", "en");
  ::testing::InitGoogleTest(&Argc, Argv);
  PrepareWebEngine();
  TApplication Application(Argc, Argv);
  return RUN_ALL_TESTS();
}
