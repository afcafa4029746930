using System;
using System.Collections.Generic;
using System.Globalization;
using System.IO;
using System.Linq;
using System.Text;
using System.Reflection;
using System.Runtime.InteropServices;
using Xunit;

namespace Corvane.Tests
{
    /// <summary>
    /// The field copy on a native block filled by hand, for the values no test volume carries:
    /// empty texts, times with the top bit set, unpaired surrogates, a text without terminator.
    /// The values go where the public C header puts each field, as a C compiler lays it out.
    /// </summary>
    public sealed unsafe class EntryReaderTests : IDisposable
    {
        private readonly byte* entry;

        public EntryReaderTests()
        {
            entry = (byte*)Marshal.AllocHGlobal(EntryReader.EntrySize);
            // A byte pattern everywhere, so a read from a wrong offset or past a terminator shows.
            new Span<byte>(entry, EntryReader.EntrySize).Fill(0xA5);
        }

        // Where the public header puts each field, so the test does not take the reader's word for it.
        private static int At(string field) => NativeLayout.Offset(field);

        public void Dispose() => Marshal.FreeHGlobal((IntPtr)entry);

        private void PutText(int offset, string text)
        {
            var units = new Span<char>(entry + offset, EntryReader.TextUnits);
            text.AsSpan().CopyTo(units);
            units[text.Length] = '\0';
        }

        private void Put<T>(int offset, T value) where T : unmanaged => *(T*)(entry + offset) = value;

        private static ResultRecord Junk() => new ResultRecord
        {
            parentId = 11, parentName = "junk", id = 12, name = "junk", allocatedSize = 13, actualSize = 14,
            creationTime = 15, modificationTime = 16, mftModificationTime = 17, accessTime = 18, flag = 19,
        };

        [SkippableFact]
        public void EveryFieldIsCopiedBitForBitFromItsNativeOffset()
        {
            Assert.Equal(EntryReader.EntrySize, NativeLayout.Offset("sizeof"));
            string longest = new string('L', 254) + "\uD800"; // 255 units, ending in an unpaired surrogate
            Put(At("parentId"), -7);
            PutText(At("parentName"), "Ω parent");
            Put(At("id"), int.MinValue + 5);
            PutText(At("name"), longest);
            Put(At("allocatedSize"), 0x7FFF_FFFF_FFFF_F000L);
            Put(At("actualSize"), 123_456_789_012L);
            Put(At("creationTime"), long.MinValue);
            Put(At("modificationTime"), -1L);
            Put(At("mftModificationTime"), unchecked((long)0x8123_4567_89AB_CDEFUL));
            Put(At("accessTime"), 0x01D9_0000_0000_0000L);
            Put(At("flag"), -2);

            ResultRecord record = Junk();
            EntryReader.Read(entry, ref record);

            Assert.Equal(-7, record.parentId);
            Assert.Equal("Ω parent", record.parentName);
            Assert.Equal(int.MinValue + 5, record.id);
            Assert.Equal(longest, record.name);
            Assert.Equal(0x7FFF_FFFF_FFFF_F000L, record.allocatedSize);
            Assert.Equal(123_456_789_012L, record.actualSize);
            Assert.Equal(long.MinValue, record.creationTime);
            Assert.Equal(-1L, record.modificationTime);
            Assert.Equal(unchecked((long)0x8123_4567_89AB_CDEFUL), record.mftModificationTime);
            Assert.Equal(0x01D9_0000_0000_0000L, record.accessTime);
            Assert.Equal(-2, record.flag);
        }

        [Fact]
        public void EmptyTextsBecomeEmptyStringsNotNull()
        {
            PutText(EntryReader.ParentNameOffset, string.Empty);
            PutText(EntryReader.NameOffset, string.Empty);

            ResultRecord record = Junk();
            EntryReader.Read(entry, ref record);

            Assert.NotNull(record.parentName);
            Assert.NotNull(record.name);
            Assert.Equal(string.Empty, record.parentName);
            Assert.Equal(string.Empty, record.name);
        }

        [Fact]
        public void TextWithoutTerminatorStopsAtTheEndOfItsField()
        {
            new Span<char>(entry + EntryReader.ParentNameOffset, EntryReader.TextUnits).Fill('p');
            Put(EntryReader.IdOffset, 0x0071_0071); // "qq" if the scan ran on into the id

            Assert.Equal(new string('p', 256), EntryReader.Text(entry + EntryReader.ParentNameOffset));
        }

        [Fact]
        public void LayoutsMatchTheNativeEntry()
        {
            Assert.Equal(EntryReader.EntrySize, Marshal.SizeOf<ResultRecord_Internal>());
            Assert.Equal(EntryReader.EntrySize, sizeof(ResultRecord_Internal));
            Assert.Empty(typeof(ResultRecord_Internal).GetFields(BindingFlags.Instance | BindingFlags.Public | BindingFlags.NonPublic));

            var fields = typeof(ResultRecord).GetFields(BindingFlags.Instance | BindingFlags.Public | BindingFlags.NonPublic)
                .OrderBy(f => f.MetadataToken)
                .Select(f => f.FieldType.Name + " " + f.Name);
            Assert.Equal(
                new[]
                {
                    "Int32 parentId", "String parentName", "Int32 id", "String name", "Int64 allocatedSize",
                    "Int64 actualSize", "Int64 creationTime", "Int64 modificationTime", "Int64 mftModificationTime",
                    "Int64 accessTime", "Int32 flag",
                },
                fields);
        }
    }

    /// <summary>
    /// The byte offsets of the native entry as the C compiler lays out include/tarnwick.h, read by
    /// compiling and running a few lines of C with offsetof. The tests skip where there is no header
    /// beside them or no C compiler.
    /// </summary>
    internal static class NativeLayout
    {
        private static readonly string[] Fields =
        {
            "parentId", "parentName", "id", "name", "allocatedSize", "actualSize", "creationTime",
            "modificationTime", "mftModificationTime", "accessTime", "flag",
        };

        private static readonly Lazy<Dictionary<string, int>> Offsets = new Lazy<Dictionary<string, int>>(Measure);

        /// <summary>The offset of <paramref name="field"/> in ResultRecord_Internal; "sizeof" gives its size.</summary>
        internal static int Offset(string field)
        {
            Dictionary<string, int> offsets = Offsets.Value;
            Skip.If(offsets == null, "no C compiler or no tarnwick.h here to measure the native layout with");
            return offsets[field];
        }

        private static Dictionary<string, int> Measure()
        {
            string root = Volumes.RepositoryRoot();
            string compiler = new[] { "cc", "gcc", "clang" }.FirstOrDefault(Volumes.HasTool);
            if (root == null || compiler == null)
            {
                return null;
            }

            string folder = Path.Combine(Volumes.Scratch(), "layout");
            Directory.CreateDirectory(folder);
            string source = Path.Combine(folder, "layout.c");
            string program = Path.Combine(folder, "layout");
            var lines = new StringBuilder("#include <stdio.h>\n#include \"tarnwick.h\"\nint main(void) {\n");
            lines.Append("    printf(\"sizeof %u\\n\", (unsigned)sizeof(ResultRecord_Internal));\n");
            foreach (string field in Fields)
            {
                lines.Append($"    printf(\"{field} %u\\n\", (unsigned)offsetof(ResultRecord_Internal, {field}));\n");
            }

            File.WriteAllText(source, lines.Append("    return 0;\n}\n").ToString());
            Volumes.Run(compiler, "-I", Path.Combine(root, "include"), "-o", program, source);
            return Volumes.Run(program)
                .Split('\n', StringSplitOptions.RemoveEmptyEntries)
                .Select(line => line.Split(' '))
                .ToDictionary(parts => parts[0], parts => int.Parse(parts[1], CultureInfo.InvariantCulture));
        }
    }
}
