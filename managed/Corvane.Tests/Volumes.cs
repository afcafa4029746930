using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.IO;
using System.Linq;
using System.Text;

namespace Corvane.Tests
{
    /// <summary>
    /// NTFS volumes for the tests: third-party images from the shared folder, decompressed on first
    /// use, and one volume made here with ntfs-3g's mkntfs and ntfscp. Nothing is ever copied into
    /// the project; everything lands in a scratch folder.
    /// </summary>
    internal static class Volumes
    {
        internal const string Made = "made";

        /// <summary>Name of a file on the made volume whose index entry carries times with the top bit set.</summary>
        internal const string TopBitName = "corvane-top-bit.txt";

        /// <summary>A name of the longest length NTFS allows (255 UTF-16 units), on the made volume.</summary>
        internal static readonly string LongestName = new string('n', 251) + ".txt";

        /// <summary>Ordinary files on the made volume.</summary>
        internal static readonly string[] PlainNames = { "alpha.txt", "beta.bin", "gamma", "Delta Mixed Case.TXT", "Ωmega 入乡随俗 \U0001F600.txt" };

        /// <summary>Byte offsets in the NTFS file-name structure of its four times.</summary>
        internal static readonly int[] TimeOffsets = { 8, 16, 24, 32 };

        private static readonly Dictionary<string, string> Ready = new Dictionary<string, string>();
        private static string scratch;
        private static bool ownScratch;

        /// <summary>Creation, modification, record change, access: the values patched into <see cref="TopBitName"/>.</summary>
        internal static long TopBitTime(int keyOffset) => unchecked((long)(0x8000_0000_0000_0000UL | (0x0123_4567_89ABUL << 8) | (uint)keyOffset));

        /// <summary>Which of the four times of <see cref="TopBitName"/> were patched (those that sit clear of sector fix-ups).</summary>
        internal static int[] PatchedTimeOffsets { get; private set; } = Array.Empty<int>();

        /// <summary>The shared folder of third-party images, or null when this checkout has none beside it.</summary>
        internal static string ImagesDirectory
        {
            get
            {
                string configured = Environment.GetEnvironmentVariable("TARNWICK_SHARED_IMAGES");
                if (!string.IsNullOrEmpty(configured))
                {
                    return Directory.Exists(configured) ? configured : null;
                }

                string root = RepositoryRoot();
                if (root == null)
                {
                    return null;
                }

                string beside = Path.GetFullPath(Path.Combine(root, "..", "shared", "ntfs-images"));
                return Directory.Exists(beside) ? beside : null;
            }
        }

        private const string BuiltPrefix = "built:";

        /// <summary>
        /// The images the project's volume builder made (CORVANE_BUILT_VOLUMES names their folder,
        /// normally the build's volumes/), as names for <see cref="Get"/>.
        /// </summary>
        internal static IEnumerable<string> Built()
        {
            string folder = Environment.GetEnvironmentVariable("CORVANE_BUILT_VOLUMES");
            if (string.IsNullOrEmpty(folder) || !Directory.Exists(folder))
            {
                return Enumerable.Empty<string>();
            }

            return Directory.GetFiles(folder, "*.img").OrderBy(f => f, StringComparer.Ordinal).Select(f => BuiltPrefix + f);
        }

        internal static bool IsBuilt(string name) => name.StartsWith(BuiltPrefix, StringComparison.Ordinal);

        /// <summary>
        /// Path of a ready volume image: <see cref="Made"/> or a path below the shared images folder
        /// such as "grr/ntfs_img.dd". Null when it cannot be had here (the caller skips).
        /// </summary>
        internal static string Get(string name)
        {
            lock (Ready)
            {
                if (Ready.TryGetValue(name, out string done))
                {
                    return done;
                }

                string path = name == Made ? MakeVolume()
                    : IsBuilt(name) ? name.Substring(BuiltPrefix.Length)
                    : Decompress(name);
                Ready[name] = path;
                return path;
            }
        }

        /// <summary>Lines of the listing that sits beside a shared image, or null.</summary>
        internal static string[] Listing(string image, string suffix)
        {
            string folder = ImagesDirectory;
            if (folder == null)
            {
                return null;
            }

            string path = Path.Combine(folder, image + suffix);
            return File.Exists(path) ? File.ReadAllLines(path) : null;
        }

        private static string Decompress(string image)
        {
            string folder = ImagesDirectory;
            string source = folder == null ? null : Path.Combine(folder, image + ".xz");
            if (source == null || !File.Exists(source) || !HasTool("xz"))
            {
                return null;
            }

            string target = Path.Combine(Scratch(), image.Replace('/', '_'));
            if (!File.Exists(target))
            {
                string partial = target + ".part";
                using (var output = File.Create(partial))
                using (var xz = Process.Start(new ProcessStartInfo("xz", $"-dc \"{source}\"")
                {
                    RedirectStandardOutput = true,
                    UseShellExecute = false,
                }))
                {
                    xz.StandardOutput.BaseStream.CopyTo(output);
                    xz.WaitForExit();
                    if (xz.ExitCode != 0)
                    {
                        throw new InvalidOperationException($"xz failed on {source}");
                    }
                }

                File.Move(partial, target);
            }

            return target;
        }

        private static string MakeVolume()
        {
            if (OperatingSystem.IsWindows() || !HasTool("mkntfs") || !HasTool("ntfscp"))
            {
                return null;
            }

            string work = Scratch();
            string image = Path.Combine(work, "made.img");
            string content = Path.Combine(work, "content.txt");
            File.WriteAllText(content, "catalogue test content\n");
            File.Delete(image);
            using (var file = File.Create(image))
            {
                file.SetLength(16L << 20);
            }

            Run("mkntfs", "-F", "-Q", "-q", "-c", "4096", "-L", "corvane", image);
            foreach (string name in PlainNames.Append(LongestName).Append(TopBitName))
            {
                Run("ntfscp", "-q", image, content, name);
            }

            PatchTopBitTimes(image);
            return image;
        }

        /// <summary>
        /// No NTFS writer here will store a time with the top bit set, so the made volume gets one
        /// written into every copy of <see cref="TopBitName"/>'s file-name structure (the directory
        /// index key and the file record's own attribute). On disk the last two bytes of every
        /// 512-byte sector of a file record or index buffer hold the update-sequence check instead
        /// of their data, so the search looks past them and no time that covers them is changed.
        /// </summary>
        private static void PatchTopBitTimes(string image)
        {
            static bool IsFixup(int offset) => offset % 512 >= 510;

            byte[] bytes = File.ReadAllBytes(image);
            byte[] pattern = Encoding.Unicode.GetBytes(TopBitName);
            var keys = new List<int>();
            for (int at = 66; at + pattern.Length <= bytes.Length; at += 2)
            {
                bool match = IsFixup(at - 2) || bytes[at - 2] == TopBitName.Length;
                for (int i = 0; match && i < pattern.Length; i++)
                {
                    match = IsFixup(at + i) || bytes[at + i] == pattern[i];
                }

                if (match)
                {
                    keys.Add(at - 66);
                }
            }

            if (keys.Count < 2)
            {
                throw new InvalidOperationException($"{TopBitName}: expected an index key and a file record copy, found {keys.Count}");
            }

            PatchedTimeOffsets = TimeOffsets
                .Where(t => keys.All(k => !Enumerable.Range(k + t, 8).Any(IsFixup)))
                .ToArray();
            foreach (int key in keys)
            {
                foreach (int t in PatchedTimeOffsets)
                {
                    BitConverter.TryWriteBytes(bytes.AsSpan(key + t, 8), TopBitTime(t));
                }
            }

            File.WriteAllBytes(image, bytes);
        }

        internal static string Scratch()
        {
            if (scratch != null)
            {
                return scratch;
            }

            string configured = Environment.GetEnvironmentVariable("CORVANE_SCRATCH");
            if (!string.IsNullOrEmpty(configured))
            {
                scratch = configured;
            }
            else
            {
                scratch = Path.Combine(Path.GetTempPath(), $"corvane-tests-{Environment.ProcessId}");
                ownScratch = true;
                AppDomain.CurrentDomain.ProcessExit += (_, _) =>
                {
                    if (ownScratch && Directory.Exists(scratch))
                    {
                        Directory.Delete(scratch, true);
                    }
                };
            }

            Directory.CreateDirectory(scratch);
            return scratch;
        }

        internal static string RepositoryRoot()
        {
            for (var dir = new DirectoryInfo(AppContext.BaseDirectory); dir != null; dir = dir.Parent)
            {
                if (File.Exists(Path.Combine(dir.FullName, "include", "tarnwick.h")))
                {
                    return dir.FullName;
                }
            }

            return null;
        }

        internal static bool HasTool(string tool) => FindTool(tool) != null;

        // ntfs-3g's tools live in /usr/sbin, which a non-root PATH may lack.
        private static string FindTool(string tool) =>
            (Environment.GetEnvironmentVariable("PATH") ?? string.Empty)
                .Split(Path.PathSeparator, StringSplitOptions.RemoveEmptyEntries)
                .Append("/usr/sbin")
                .Select(dir => Path.Combine(dir, tool))
                .FirstOrDefault(File.Exists);

        /// <summary>Runs <paramref name="tool"/> (a name on the PATH or a full path) and returns what it printed.</summary>
        internal static string Run(string tool, params string[] arguments)
        {
            var start = new ProcessStartInfo(Path.IsPathRooted(tool) ? tool : FindTool(tool))
            {
                RedirectStandardOutput = true,
                RedirectStandardError = true,
                UseShellExecute = false,
            };
            foreach (string argument in arguments)
            {
                start.ArgumentList.Add(argument);
            }

            using var process = Process.Start(start);
            var output = process.StandardOutput.ReadToEndAsync();
            string errors = process.StandardError.ReadToEnd();
            output.Wait();
            process.WaitForExit();
            if (process.ExitCode != 0)
            {
                throw new InvalidOperationException($"{tool} exited with {process.ExitCode}: {errors}");
            }

            return output.Result;
        }
    }
}
