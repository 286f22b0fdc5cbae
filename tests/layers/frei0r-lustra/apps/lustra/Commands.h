// One of lustra's own headers.
#pragma once
