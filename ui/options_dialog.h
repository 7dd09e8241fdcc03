#pragma once

// The options dialog, modal, owned by the host window.
void showOptionsDialog();
