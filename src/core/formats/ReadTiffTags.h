#pragma once
// Directory parser of the TIFF reader.
