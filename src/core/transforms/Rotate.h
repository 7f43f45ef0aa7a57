#pragma once
// Rotation of the working bitmap by any angle in degrees and hundredths.
