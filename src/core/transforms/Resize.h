#pragma once
// Resizing of the working bitmap by point sampling.
