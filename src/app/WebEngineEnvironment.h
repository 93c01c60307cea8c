#pragma once
// Prepares the embedded browser engine; must run before the application object is created.
// As root the engine's sandbox cannot start, and without a display there is no GPU to use.
void PrepareWebEngine();
