// C# declarations of the Tavrin N47 detector driver (Tavrin_N47_USB_REF.dll, version 1.0) and a
// thin safe layer over them. Add this file to the project and compile with unsafe code allowed
// (<AllowUnsafeBlocks>true</AllowUnsafeBlocks>, csc /unsafe, mcs -unsafe). Tavrin_N47_USB_REF.dll
// and USB_FRM01.dll go beside the executable; the i686 DLLs need the x86 platform target, the
// x86_64 ones x64 (AnyCPU runs 64-bit on 64-bit Windows, which cannot load the i686 DLL).
// On Linux, mono finds libTavrin_N47_USB_REF.so through LD_LIBRARY_PATH or a <dllmap>.
//
// TavrinN47.Native declares the 18 exports exactly (entry point, ordinal, stdcall, types);
// TavrinN47.Detector is the safe layer: one detector per process, created by its constructor
// and freed by Dispose, every refusal of the driver an N47Exception that says why.
//
// ImageView (a Span<ushort>) needs System.Span: .NET Core 2.1 and later, mono, or the
// System.Memory package on the .NET Framework. Define N47_NO_SPAN to leave it out; the
// pointer view (ImagePointer, ImageData) and the copies (CopyImage) remain.
using System;
using System.IO;
using System.Runtime.InteropServices;

namespace TavrinN47
{
    /// <summary>The driver's 18 exports as the DLL exports them: plain names at fixed
    /// ordinals, stdcall on 32-bit x86 (64-bit code has one convention; the attribute changes nothing there).
    /// Every function returns its documented "no detector" value while none exists.</summary>
    public static class Native
    {
        public const string Library = "Tavrin_N47_USB_REF";
        public const int FrameWidth = 2048;
        public const int FrameHeight = 1536;
        public const int FramePixels = FrameWidth * FrameHeight;
        public const int PixelMapBytes = 3149313;
        public const int GainMapBytes = 12582912;
        public const int MaxSeriesLength = 65537;

        /// <summary>@1 Destroys the detector. 1; -1 if none.</summary>
        [DllImport(Library, EntryPoint = "Sys_Free", CallingConvention = CallingConvention.StdCall, ExactSpelling = true)]
        public static extern int Sys_Free();

        /// <summary>@2 Reads the next 64-byte control message (after a 1 ms sleep). 1; -1 if none.</summary>
        [DllImport(Library, EntryPoint = "CheckSwitch", CallingConvention = CallingConvention.StdCall, ExactSpelling = true)]
        public static extern int CheckSwitch();

        /// <summary>@3 Counts one ready-time tick. 1, or 0 when this call ended the ready state; 0 if none.</summary>
        [DllImport(Library, EntryPoint = "Ready_Time_Chk", CallingConvention = CallingConvention.StdCall, ExactSpelling = true)]
        public static extern int Ready_Time_Chk();

        /// <summary>@4 Command 1 = ready, 2 = acquire, 3 = stop. 1 or 0; no detector: the command.</summary>
        [DllImport(Library, EntryPoint = "RunforDetector", CallingConvention = CallingConvention.StdCall, ExactSpelling = true)]
        public static extern int RunforDetector(int command);

        /// <summary>@5 Loads a pixel-map file into the active pixel map. 1, or 0 (map unchanged).</summary>
        [DllImport(Library, EntryPoint = "LoadPixelMap", CallingConvention = CallingConvention.StdCall, ExactSpelling = true,
                   CharSet = CharSet.Ansi, BestFitMapping = false, ThrowOnUnmappableChar = true)]
        public static extern int LoadPixelMap([MarshalAs(UnmanagedType.LPStr)] string path);

        /// <summary>@6 Loads a gain-map file into the active gain map. 1, or 0 (map unchanged).</summary>
        [DllImport(Library, EntryPoint = "LoadGainMap", CallingConvention = CallingConvention.StdCall, ExactSpelling = true,
                   CharSet = CharSet.Ansi, BestFitMapping = false, ThrowOnUnmappableChar = true)]
        public static extern int LoadGainMap([MarshalAs(UnmanagedType.LPStr)] string path);

        /// <summary>@7 The image's address, as GetImagePtr. Null if no detector.</summary>
        [DllImport(Library, EntryPoint = "SaveRawImage", CallingConvention = CallingConvention.StdCall, ExactSpelling = true)]
        public static extern IntPtr SaveRawImage();

        /// <summary>@8 Creates the detector and opens the device. 1; 0 when memory ran out;
        /// -1 when a detector already exists.</summary>
        [DllImport(Library, EntryPoint = "Sys_Allocation_N47", CallingConvention = CallingConvention.StdCall, ExactSpelling = true)]
        public static extern int Sys_Allocation_N47();

        /// <summary>@9 1 when the device opened at creation, else 0; -1 if no detector.</summary>
        [DllImport(Library, EntryPoint = "CheckInterface", CallingConvention = CallingConvention.StdCall, ExactSpelling = true)]
        public static extern int CheckInterface();

        /// <summary>@10 The last temperature a control message carried (degrees); -1 if no detector.</summary>
        [DllImport(Library, EntryPoint = "GetTemperature", CallingConvention = CallingConvention.StdCall, ExactSpelling = true)]
        public static extern int GetTemperature();

        /// <summary>@11 Switch code (1, 2, 3 or 0) in byte <paramref name="index"/> (0 to 63) of the last message.</summary>
        [DllImport(Library, EntryPoint = "GetSwitchMsg", CallingConvention = CallingConvention.StdCall, ExactSpelling = true)]
        public static extern int GetSwitchMsg(int index);

        /// <summary>@12 Drains the control channel (100 messages). 1; -1 if no detector.</summary>
        [DllImport(Library, EntryPoint = "Init_Comm", CallingConvention = CallingConvention.StdCall, ExactSpelling = true)]
        public static extern int Init_Comm();

        /// <summary>@13 Control-message length, 64; -1 if no detector.</summary>
        [DllImport(Library, EntryPoint = "GetMsgLength", CallingConvention = CallingConvention.StdCall, ExactSpelling = true)]
        public static extern int GetMsgLength();

        /// <summary>@14 Saves the calibrated pixel map (replaced in one step). 1, 0, or -1 if no detector.</summary>
        [DllImport(Library, EntryPoint = "SavePixelMap", CallingConvention = CallingConvention.StdCall, ExactSpelling = true,
                   CharSet = CharSet.Ansi, BestFitMapping = false, ThrowOnUnmappableChar = true)]
        public static extern int SavePixelMap([MarshalAs(UnmanagedType.LPStr)] string path);

        /// <summary>@15 Saves the calibrated gain map (replaced in one step). 1, 0, or -1 if no detector.</summary>
        [DllImport(Library, EntryPoint = "SaveGainMap", CallingConvention = CallingConvention.StdCall, ExactSpelling = true,
                   CharSet = CharSet.Ansi, BestFitMapping = false, ThrowOnUnmappableChar = true)]
        public static extern int SaveGainMap([MarshalAs(UnmanagedType.LPStr)] string path);

        /// <summary>@16 Step <paramref name="index"/> of a calibration series of <paramref name="count"/>
        /// flats; rewrites the frame in place (outliers 5000, the rest 0). 1; 0 for a null frame or a
        /// count outside 1 .. 65537; -1 if no detector. The array (FramePixels values) is pinned for the call.</summary>
        [DllImport(Library, EntryPoint = "Map_Calibration", CallingConvention = CallingConvention.StdCall, ExactSpelling = true)]
        public static extern int Map_Calibration([In, Out] ushort[] frame, int index, int count);

        /// <summary>@16 The same, on a frame in unmanaged memory.</summary>
        [DllImport(Library, EntryPoint = "Map_Calibration", CallingConvention = CallingConvention.StdCall, ExactSpelling = true)]
        public static extern int Map_Calibration(IntPtr frame, int index, int count);

        /// <summary>@17 The corrected image inside the library (FramePixels values, valid until
        /// Sys_Free; the next acquisition overwrites it). Null if no detector.</summary>
        [DllImport(Library, EntryPoint = "GetImagePtr", CallingConvention = CallingConvention.StdCall, ExactSpelling = true)]
        public static extern IntPtr GetImagePtr();

        /// <summary>@18 Mode 1 = calibration mode, 0 = normal mode; returns the mode set, any other
        /// value unchanged; -1 if no detector.</summary>
        [DllImport(Library, EntryPoint = "CalibrationMode", CallingConvention = CallingConvention.StdCall, ExactSpelling = true)]
        public static extern int CalibrationMode(int mode);
    }

    /// <summary>A call the driver refused, with the reason.</summary>
    public class N47Exception : Exception
    {
        public N47Exception(string message) : base(message) { }
    }

    /// <summary>No frame came from the device within the driver's capture time-out.</summary>
    public class CaptureTimeoutException : N47Exception
    {
        public CaptureTimeoutException(string message) : base(message) { }
    }

    /// <summary>The process's one detector: created by the constructor, freed by Dispose
    /// (use it in a using block). Not thread-safe: call it from one thread at a time. There is
    /// no finalizer, since the finalizer thread could free it under another call; a detector
    /// never disposed lives until the process ends.</summary>
    public sealed class Detector : IDisposable
    {
        private const int Ready = 1, Acquire = 2;
        private bool open;
        private bool calibrationMode;

        public Detector()
        {
            int result = Native.Sys_Allocation_N47();
            if (result == -1)
                throw new N47Exception("a detector already exists in this process (dispose it first)");
            if (result != 1)
                throw new N47Exception("the detector could not be created: memory ran out");
            open = true;
        }

        public void Dispose()
        {
            if (open)
            {
                open = false;
                Native.Sys_Free();
            }
        }

        private void RequireOpen()
        {
            if (!open) throw new ObjectDisposedException("Detector", "the detector has been disposed");
        }

        /// <summary>Whether the device opened when the detector was created.</summary>
        public bool Connected { get { RequireOpen(); return Native.CheckInterface() == 1; } }

        /// <summary>The last temperature a control message carried, degrees.</summary>
        public int Temperature { get { RequireOpen(); return Native.GetTemperature(); } }

        /// <summary>Reads and decodes the control channel's next 100 messages.</summary>
        public void DrainMessages() { RequireOpen(); Native.Init_Comm(); }

        /// <summary>True: frames are corrected without gain map and border mask, as a calibration wants them.</summary>
        public bool CalibrationMode
        {
            get { RequireOpen(); return calibrationMode; }
            set { RequireOpen(); Native.CalibrationMode(value ? 1 : 0); calibrationMode = value; }
        }

        /// <summary>Captures and corrects one frame into the library's image buffer (see
        /// ImageView, CopyImage).</summary>
        public void Capture()
        {
            RequireOpen();
            Native.RunforDetector(Ready);  // refused only when already ready, which serves as well
            if (Native.RunforDetector(Acquire) != 1)
                throw new CaptureTimeoutException("no frame came from the detector within the capture time-out");
        }

        /// <summary>The library's image buffer (FramePixels values, row by row). The next capture
        /// overwrites it; Dispose frees it.</summary>
        public IntPtr ImagePointer
        {
            get
            {
                RequireOpen();
                IntPtr image = Native.GetImagePtr();
                if (image == IntPtr.Zero) throw new N47Exception("the library gave no image buffer");
                return image;
            }
        }

        /// <summary>ImagePointer as a typed pointer: no copy, valid as ImagePointer is.</summary>
        public unsafe ushort* ImageData { get { return (ushort*)ImagePointer; } }

#if !N47_NO_SPAN
        /// <summary>The library's image buffer without a copy: valid until the next capture or Dispose.</summary>
        public unsafe Span<ushort> ImageView { get { return new Span<ushort>(ImageData, Native.FramePixels); } }
#endif

        /// <summary>A copy of the last corrected frame (FramePixels values, row by row).</summary>
        public ushort[] CopyImage()
        {
            var copy = new ushort[Native.FramePixels];
            CopyImage(copy);
            return copy;
        }

        /// <summary>Copies the last corrected frame into <paramref name="destination"/> (FramePixels values).</summary>
        public void CopyImage(ushort[] destination)
        {
            CheckFrame(destination, "destination");
            const long bytes = Native.FramePixels * sizeof(ushort);
            unsafe
            {
                fixed (ushort* to = destination) Buffer.MemoryCopy(ImageData, to, bytes, bytes);
            }
        }

        /// <summary>Step <paramref name="index"/> of a calibration series of <paramref name="count"/>
        /// flat frames (captured in calibration mode). The frame is rewritten in place into a
        /// picture of its outliers (5000) and the rest (0). The last step makes the new maps,
        /// which SavePixelMap and SaveGainMap write.</summary>
        public void CalibrationStep(ushort[] frame, int index, int count)
        {
            RequireOpen();
            CheckFrame(frame, "frame");
            if (count < 1 || count > Native.MaxSeriesLength)
                throw new ArgumentOutOfRangeException("count", count, "a calibration series has 1 to " + Native.MaxSeriesLength + " frames");
            if (index < 0 || index >= count)
                throw new ArgumentOutOfRangeException("index", index, "a step of a series of " + count + " frames is 0 to " + (count - 1));
            if (Native.Map_Calibration(frame, index, count) != 1)
                throw new N47Exception("the library refused calibration step " + index + " of " + count);
        }

        /// <summary>Makes a pixel-map file the active pixel map; on failure the active map is unchanged.</summary>
        public void LoadPixelMap(string path)
        {
            RequireOpen();
            if (Native.LoadPixelMap(path) != 1) throw new N47Exception(WhyUnloadable(path, "a pixel map", Native.PixelMapBytes));
        }

        /// <summary>Makes a gain-map file the active gain map; on failure the active map is unchanged.</summary>
        public void LoadGainMap(string path)
        {
            RequireOpen();
            if (Native.LoadGainMap(path) != 1) throw new N47Exception(WhyUnloadable(path, "a gain map", Native.GainMapBytes));
        }

        /// <summary>Saves the pixel map of the last calibration; an existing file is replaced in one step.</summary>
        public void SavePixelMap(string path)
        {
            RequireOpen();
            if (Native.SavePixelMap(path) != 1) throw new N47Exception(WhyUnsavable(path, "the pixel map"));
        }

        /// <summary>Saves the gain map of the last calibration; an existing file is replaced in one step.</summary>
        public void SaveGainMap(string path)
        {
            RequireOpen();
            if (Native.SaveGainMap(path) != 1) throw new N47Exception(WhyUnsavable(path, "the gain map"));
        }

        private static void CheckFrame(ushort[] frame, string name)
        {
            if (frame == null) throw new ArgumentNullException(name);
            if (frame.Length != Native.FramePixels)
                throw new ArgumentException("a frame has " + Native.FramePixels + " values (2048 x 1536), not " + frame.Length, name);
        }

        // Why the library refused a map file, found without reading it.
        private static string WhyUnloadable(string path, string what, long size)
        {
            if (Directory.Exists(path)) return path + ": a folder, not " + what;
            if (!File.Exists(path)) return path + ": no such file";
            long length = new FileInfo(path).Length;
            if (length != size) return path + ": " + length + " bytes; " + what + " has exactly " + size;
            return path + ": could not be read as " + what;
        }

        private static string WhyUnsavable(string path, string what)
        {
            string folder = Path.GetDirectoryName(Path.GetFullPath(path));
            if (Directory.Exists(path)) return path + ": a folder; " + what + " cannot replace it";
            if (!Directory.Exists(folder)) return path + ": the folder " + folder + " does not exist";
            return path + ": " + what + " could not be written (no permission, a disk full, or not an ordinary file)";
        }
    }
}
