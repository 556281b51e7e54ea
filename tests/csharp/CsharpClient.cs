// A C# application of our users against bindings/csharp/TavrinN47.cs: a capture, a calibration
// series played back from raw flats, the maps saved and loaded, a corrected frame written, and
// the safe layer's refusals. CI compares the maps and the frame with the n47 tool's.
//   mono CsharpClient.exe PIXEL_MAP GAIN_MAP CORRECTED.raw FLAT.raw...
// Prints "csharp client: all checks passed" and exits 0 when every check held.
using System;
using System.IO;
using System.Runtime.InteropServices;
using TavrinN47;

static class CsharpClient
{
    // The simulator's playback control (cdecl, as every USB_FRM01 function).
    [DllImport("USB_FRM01", CallingConvention = CallingConvention.Cdecl, CharSet = CharSet.Ansi)]
    static extern int n47sim_play_raw_file(string path);

    static int failures;

    static void Check(bool condition, string what)
    {
        Console.WriteLine((condition ? "ok   " : "FAIL ") + what);
        if (!condition) ++failures;
    }

    static bool Throws<T>(Action action, string reasonPart) where T : Exception
    {
        try { action(); }
        catch (T error) { return error.Message.Contains(reasonPart); }
        return false;
    }

    static void Play(string path)
    {
        if (n47sim_play_raw_file(path) != 1) throw new IOException(path + ": the simulator cannot play it");
    }

    static int Main(string[] args)
    {
        string pixelMap = args[0], gainMap = args[1], corrected = args[2];
        string[] flats = new string[args.Length - 3];
        Array.Copy(args, 3, flats, 0, flats.Length);

        using (var detector = new Detector())
        {
            Check(detector.Connected, "the detector is created and the simulated device connected");
            Check(Throws<N47Exception>(() => new Detector(), "already exists"), "a second detector is refused");

            detector.CalibrationMode = true;
            for (int index = 0; index < flats.Length; ++index)
            {
                Play(flats[index]);
                detector.Capture();
                ushort[] frame = detector.CopyImage();
                detector.CalibrationStep(frame, index, flats.Length);
            }
            detector.SavePixelMap(pixelMap);
            detector.SaveGainMap(gainMap);
            Check(new FileInfo(pixelMap).Length == Native.PixelMapBytes && new FileInfo(gainMap).Length == Native.GainMapBytes,
                  "a calibration series of " + flats.Length + " flats saves both maps");
            detector.LoadPixelMap(pixelMap);
            detector.LoadGainMap(gainMap);
            Check(Throws<N47Exception>(() => detector.LoadGainMap(pixelMap), "bytes; a gain map has exactly"),
                  "a pixel map offered as the gain map is refused with its size");

            detector.CalibrationMode = false;
            Play(flats[0]);
            detector.Capture();
            ushort[] image = detector.CopyImage();
            Span<ushort> view = detector.ImageView;
            bool same = view.Length == image.Length;
            for (int i = 0; same && i < image.Length; ++i) same = view[i] == image[i];
            Check(same && detector.ImagePointer == Native.SaveRawImage(), "the copy, the view and the pointer show one image");
            Check(image[0] == 16383 && image[image.Length - 1] == 16383, "normal mode masks the border");
            var bytes = new byte[image.Length * sizeof(ushort)];
            Buffer.BlockCopy(image, 0, bytes, 0, bytes.Length);  // little-endian, as the raw files
            File.WriteAllBytes(corrected, bytes);

            Check(Throws<ArgumentException>(() => detector.CalibrationStep(new ushort[16], 0, 1), "not 16"),
                  "a frame of the wrong size is refused before the library sees it");
        }
        Check(Native.Sys_Free() == -1, "Dispose frees the detector");
        using (new Detector()) { }  // throws unless the first one was freed
        Console.WriteLine(failures == 0 ? "csharp client: all checks passed" : "csharp client: checks failed");
        return failures == 0 ? 0 : 1;
    }
}
