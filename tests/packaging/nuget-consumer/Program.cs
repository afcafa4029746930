// Loads drive T: from the image named on the command line and prints what it held,
// once through MftClass and once through Catalogue; both must agree.
using Corvane;

if (args.Length != 1)
{
    Console.Error.WriteLine("usage: NuGetConsumer IMAGE");
    return 2;
}

uint drive = Drives.Map('T', args[0]);
ulong count = 0;
int status = MftClass.LoadMft(drive, ref count);
if (status != 0)
{
    Console.Error.WriteLine($"LoadMft: {MftClass.GetMftMessage(status)}");
    return 1;
}

var records = new ResultRecord[count];
status = MftClass.GetMft(records);
if (status != 0)
{
    Console.Error.WriteLine($"GetMft: {MftClass.GetMftMessage(status)}");
    return 1;
}

try
{
    using var catalogue = Catalogue.Load(drive);
    int directories = catalogue.Entries.Count(e => e.IsDirectory);
    Console.WriteLine($"Corvane: {count} entries, {catalogue.Entries.Count} in the catalogue object, {directories} directories");
    return catalogue.Entries.Count == records.Length ? 0 : 1;
}
catch (CatalogueException e)
{
    Console.Error.WriteLine($"Catalogue.Load: {e.StatusText} ({e.Status})");
    return 1;
}
