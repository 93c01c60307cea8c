// Runs every test inside one application object, headless unless a platform is chosen.
#include <gtest/gtest.h>

#include "app/TApplication.h"
#include "app/WebEngineEnvironment.h"

int main(int Argc, char** Argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&Argc, Argv);
  PrepareWebEngine();
  TApplication Application(Argc, Argv);
  return RUN_ALL_TESTS();
}
