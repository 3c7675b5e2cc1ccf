/* Resource ids shared by pasotune.rc and the Win32 window. */
#ifndef PASOTUNE_RESOURCES_H
#define PASOTUNE_RESOURCES_H

/* The program icon; the lowest id, so Explorer shows it for the .exe. */
#define IDI_PASOTUNE 1
/* Command1's built-in picture: the 16 x 16 image of the upward arrow. */
#define IDI_BUILTIN_PICTURE 2

#endif
