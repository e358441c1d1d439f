"""The X pointer of a display read and moved straight through Xlib: a call is
one round trip to the X server, well under a millisecond (a xdotool process
costs about 3 ms), so latency figures carry little of the probe."""
import ctypes
import time


class XPointer:
    def __init__(self, display):
        self.x11 = ctypes.cdll.LoadLibrary("libX11.so.6")
        self.x11.XOpenDisplay.restype = ctypes.c_void_p
        self.x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x11.XDefaultRootWindow.restype = ctypes.c_ulong
        self.x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        self.x11.XQueryPointer.argtypes = [ctypes.c_void_p, ctypes.c_ulong] + \
            [ctypes.c_void_p] * 7
        self.x11.XWarpPointer.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong] + \
            [ctypes.c_int] * 2 + [ctypes.c_uint] * 2 + [ctypes.c_int] * 2
        self.x11.XFlush.argtypes = [ctypes.c_void_p]
        self.display = self.x11.XOpenDisplay(display.encode())
        if not self.display:
            raise RuntimeError("cannot open display " + display)
        self.root = self.x11.XDefaultRootWindow(self.display)

    def position(self):
        root, child = ctypes.c_ulong(), ctypes.c_ulong()
        x, y, wx, wy, mask = (ctypes.c_int() for _ in range(5))
        self.x11.XQueryPointer(self.display, self.root, ctypes.byref(root),
                               ctypes.byref(child), ctypes.byref(x), ctypes.byref(y),
                               ctypes.byref(wx), ctypes.byref(wy), ctypes.byref(mask))
        return x.value, y.value

    def move(self, x, y):
        """Moves the pointer as a user would: the windows under it see motion."""
        self.x11.XWarpPointer(self.display, 0, self.root, 0, 0, 0, 0, x, y)
        self.x11.XFlush(self.display)


def time_moves(rounds, move, arrived):
    """Milliseconds from move(i) until arrived(i) holds (2 s at most), for i
    in range(rounds): median, 90th and 99th percentile and worst. The moves are
    spread at odd intervals so that they fall anywhere in the agent's frame
    period. On a shared machine the worst is often one move that waited for the
    processor; the 99th percentile shows whether it stood alone."""
    samples = []
    for i in range(rounds):
        move(i)
        sent = time.perf_counter()
        while not arrived(i) and time.perf_counter() - sent < 2:
            time.sleep(0.0002)
        samples.append((time.perf_counter() - sent) * 1000)
        time.sleep(0.02 + (i * 7919 % 23) / 1000)
    samples.sort()
    n = len(samples)
    return samples[n // 2], samples[n * 9 // 10], samples[n * 99 // 100], samples[-1]
