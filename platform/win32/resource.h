#pragma once
// Resource numbers of kwandor_upd.exe.
#define KW_ICON 1
