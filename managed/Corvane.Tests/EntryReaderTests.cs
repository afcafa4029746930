using System;
using System.Linq;
using System.Reflection;
using System.Runtime.InteropServices;
using Xunit;

namespace Corvane.Tests
{
    /// <summary>
    /// The field copy on a native block filled by hand, for the values no test volume carries:
    /// empty texts, times with the top bit set, unpaired surrogates, a text without terminator.
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

        [Fact]
        public void EveryFieldIsCopiedBitForBitFromItsOffset()
        {
            string longest = new string('L', 254) + "\uD800"; // 255 units, ending in an unpaired surrogate
            Put(EntryReader.ParentIdOffset, -7);
            PutText(EntryReader.ParentNameOffset, "Ω parent");
            Put(EntryReader.IdOffset, int.MinValue + 5);
            PutText(EntryReader.NameOffset, longest);
            Put(EntryReader.AllocatedSizeOffset, 0x7FFF_FFFF_FFFF_F000L);
            Put(EntryReader.ActualSizeOffset, 123_456_789_012L);
            Put(EntryReader.CreationTimeOffset, long.MinValue);
            Put(EntryReader.ModificationTimeOffset, -1L);
            Put(EntryReader.MftModificationTimeOffset, unchecked((long)0x8123_4567_89AB_CDEFUL));
            Put(EntryReader.AccessTimeOffset, 0x01D9_0000_0000_0000L);
            Put(EntryReader.FlagOffset, -2);

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
            Assert.Equal(1096, Marshal.SizeOf<ResultRecord_Internal>());
            Assert.Equal(1096, sizeof(ResultRecord_Internal));
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
}
