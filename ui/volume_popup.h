#pragma once

// The volume and tray-button popup at the cursor; does nothing while open.
void showVolumePopup();
